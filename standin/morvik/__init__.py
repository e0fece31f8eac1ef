"""Stand-in for the morvik host package, for standalone runs of its view controls."""
