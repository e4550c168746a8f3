# CodeSign tests.
