// Placeholder translation unit: the modifier module is being written.
