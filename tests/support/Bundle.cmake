# Bundle fixture builders.
