// Keeps the front-end libraries non-empty while they are being written.
