// CLI11 glue: help, usage errors, suggestions and value checks.
