# Xar sources and tools.
