# Bundle tests.
