"""morvik: view controls for a desktop CAD host."""
