// Tool runner tests.
