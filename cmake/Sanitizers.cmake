# BMPCONTRAST_SANITIZE=address,undefined (or thread) instruments every target.
# Findings abort: a sanitizer build that recovers would let CI pass over them.
set(BMPCONTRAST_SANITIZE "" CACHE STRING "Comma-separated -fsanitize= list, empty for none")

if(BMPCONTRAST_SANITIZE)
  add_compile_options(-fsanitize=${BMPCONTRAST_SANITIZE} -fno-sanitize-recover=all
                      -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=${BMPCONTRAST_SANITIZE})
endif()
