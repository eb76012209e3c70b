# A static OpenCV for Windows names its dependencies without bringing them:
# protobuf as the target protobuf::libprotobuf, and OpenMP's runtime, which
# only -fopenmp at the link brings in.
if(NOT TARGET protobuf::libprotobuf)
  find_library(QLCORE_PROTOBUF_LIBRARY NAMES protobuf libprotobuf REQUIRED)
  add_library(protobuf::libprotobuf STATIC IMPORTED)
  set_target_properties(protobuf::libprotobuf PROPERTIES
    IMPORTED_LOCATION ${QLCORE_PROTOBUF_LIBRARY})
endif()
add_link_options(-fopenmp)
