"""Services of the morvik host."""
