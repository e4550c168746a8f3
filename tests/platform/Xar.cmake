# Xar tests.
