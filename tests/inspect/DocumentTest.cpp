// Classification tests.
