# Bundle sources and tools.
