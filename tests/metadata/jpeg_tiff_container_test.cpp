// filled by its author
