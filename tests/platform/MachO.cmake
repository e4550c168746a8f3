# MachO tests.
