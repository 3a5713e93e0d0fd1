# Our own code builds without warnings; CI (COILHATCH_WERROR=ON) turns any warning into an error.
option(COILHATCH_WERROR "Treat warnings in our own code as errors" OFF)
add_library(coilhatch_warnings INTERFACE)
target_compile_options(coilhatch_warnings INTERFACE -Wall -Wextra $<$<BOOL:${COILHATCH_WERROR}>:-Werror>)
