// Gives a library a translation unit while it has no files of its own.
