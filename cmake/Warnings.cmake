# Our own code builds without warnings.
add_library(coilhatch_warnings INTERFACE)
target_compile_options(coilhatch_warnings INTERFACE -Wall -Wextra)
