# Deployment data: who publishes the build and which servers it talks to. Schemes and paths are the
# product's and fixed in the code; only host names (with an optional :port) are configured here. The
# defaults are reserved names that never resolve, so an unconfigured build fetches nothing from anyone.
set(CORVANE_COMPANY "Quillora" CACHE STRING "CompanyName of the version resource")
set(CORVANE_COPYRIGHT "Copyright (C) Quillora" CACHE STRING "LegalCopyright of the version resource")
set(CORVANE_UPDATE_HOST "update.quillora.example" CACHE STRING "Host of the main product's update manifest (HTTPS)")
set(CORVANE_PARTNER_HOST "download.pagewing.example" CACHE STRING "Host of the partner's download server (HTTPS)")
set(CORVANE_REGION_HOST "www.quillora.example" CACHE STRING "Host of the region check (HTTPS)")
set(CORVANE_QUILLORA_TOS_HOST "www.quillora.example" CACHE STRING "Host of the main product's terms page (HTTP)")
set(CORVANE_PAGEWING_TOS_HOST "www.pagewing.example" CACHE STRING "Host of the partner's licence pages (HTTP)")
# Subject name (CN) of the certificate that must have signed each product's installer; empty accepts any
# publisher the system trusts.
set(CORVANE_QUILLORA_PUBLISHER "" CACHE STRING "Publisher that must have signed the main product's installer")
set(CORVANE_PAGEWING_PUBLISHER "" CACHE STRING "Publisher that must have signed the partner's installer")

configure_file(${CMAKE_CURRENT_LIST_DIR}/deployment.h.in ${CMAKE_BINARY_DIR}/generated/deployment.h @ONLY)

# A release (a build without tests) with an empty publisher runs any installer that anybody with a
# certificate the machine trusts has signed, wherever its download came from: say so where it cannot be
# missed.
if(DEFINED CORVANE_TESTS AND NOT CORVANE_TESTS)
  foreach(publisher CORVANE_QUILLORA_PUBLISHER CORVANE_PAGEWING_PUBLISHER)
    if("${${publisher}}" STREQUAL "")
      message(WARNING "\n*** ${publisher} is empty: this build accepts an installer signed by ANY publisher the "
                      "machine trusts. Set it to the common name of the product's signing certificate. ***\n")
    endif()
  endforeach()
endif()
