// Placeholder translation unit: the geometry module is being written.
