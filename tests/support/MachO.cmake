# MachO fixture builders.
