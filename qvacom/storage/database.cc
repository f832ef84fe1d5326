// The database object.
