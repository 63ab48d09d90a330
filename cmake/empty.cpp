// Gives the platform library a translation unit while a platform has no files of its own.
