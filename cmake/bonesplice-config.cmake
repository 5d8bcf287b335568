# find_package(bonesplice): the static library and its header as the target
# bonesplice::bonesplice.
include(CMakeFindDependencyMacro)
find_dependency(Threads)
include(${CMAKE_CURRENT_LIST_DIR}/bonesplice-targets.cmake)
