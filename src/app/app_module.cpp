// The application core library.
