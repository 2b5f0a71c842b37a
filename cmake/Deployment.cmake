# Deployment data: who publishes the build. Host names come with the network code; until a release sets
# them, nothing here points at anyone's real server.
set(CORVANE_COMPANY "Quillora" CACHE STRING "CompanyName of the version resource")
set(CORVANE_COPYRIGHT "Copyright (C) Quillora" CACHE STRING "LegalCopyright of the version resource")

configure_file(${CMAKE_CURRENT_LIST_DIR}/deployment.h.in ${CMAKE_BINARY_DIR}/generated/deployment.h @ONLY)
