# MachO sources and tools.
