# CodeSign fixture builders.
