# EDFlib (Debian: libedf-dev), the EDF/BDF reader of the record library.
# Sets EDFlib_FOUND, EDFLIB_INCLUDE_DIR and EDFLIB_LIBRARY.
# -DCMAKE_DISABLE_FIND_PACKAGE_EDFlib=ON builds as if it were not installed.
find_path(EDFLIB_INCLUDE_DIR edflib.h)
find_library(EDFLIB_LIBRARY edf)
include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(EDFlib REQUIRED_VARS EDFLIB_LIBRARY EDFLIB_INCLUDE_DIR)
mark_as_advanced(EDFLIB_INCLUDE_DIR EDFLIB_LIBRARY)
