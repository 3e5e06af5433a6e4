# Finds the PVM 3 library and header and provides the imported target PVM::pvm3.
#   PVM_FOUND, PVM_INCLUDE_DIR, PVM_LIBRARY
find_path(PVM_INCLUDE_DIR pvm3.h PATHS /usr/include /usr/local/include /usr/lib/pvm3/include)
find_library(PVM_LIBRARY NAMES pvm3 PATHS /usr/lib/pvm3/lib)

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(PVM REQUIRED_VARS PVM_LIBRARY PVM_INCLUDE_DIR)

if(PVM_FOUND AND NOT TARGET PVM::pvm3)
  add_library(PVM::pvm3 UNKNOWN IMPORTED)
  set_target_properties(PVM::pvm3 PROPERTIES
    IMPORTED_LOCATION "${PVM_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${PVM_INCLUDE_DIR}")
endif()
mark_as_advanced(PVM_INCLUDE_DIR PVM_LIBRARY)
