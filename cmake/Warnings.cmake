# Warning flags shared by every target of the project.
option(BMPCONTRAST_WERROR "Treat compiler warnings as errors" OFF)

function(bmpcontrast_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wconversion -Wshadow
                                           $<$<BOOL:${BMPCONTRAST_WERROR}>:-Werror>)
endfunction()
