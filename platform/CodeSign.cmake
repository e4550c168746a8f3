# CodeSign sources and tools.
