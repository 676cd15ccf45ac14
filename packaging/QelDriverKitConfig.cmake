# CMake package of the QEL printer driver kit:
#   find_package(QelDriverKit 1 REQUIRED)
#   target_link_libraries(app PRIVATE QelDriverKit::QelApi)   # or QelDriverKit::QelTb
include("${CMAKE_CURRENT_LIST_DIR}/QelDriverKitTargets.cmake")
