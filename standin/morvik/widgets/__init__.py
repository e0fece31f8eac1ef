"""Qt widgets of the morvik host."""
