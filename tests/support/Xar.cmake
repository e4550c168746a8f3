# Xar fixture builders.
