# Restores the exact roll widths in the PageSize/PageRegion code of the PPDs
# that ppdc wrote.  ppdc rounds the numbers in that code to whole points, and
# 204 pt gives 575 dots where the head has 576 (204.3 pt); the PaperDimension
# and ImageableArea lines already carry the exact widths.
#
#   cmake -DPPD_DIR=dir -DPPD_NAMES="a.ppd;b.ppd" -P fix_page_sizes.cmake
if(NOT PPD_DIR OR NOT PPD_NAMES)
  message(FATAL_ERROR "PPD_DIR and PPD_NAMES are required")
endif()
foreach(name IN LISTS PPD_NAMES)
  set(file ${PPD_DIR}/${name})
  if(NOT EXISTS ${file})
    message(FATAL_ERROR "ppdc did not write ${file}")
  endif()
  file(READ ${file} text)
  # Roll widths: 384 dots (48 mm), 416 dots (52 mm) and 576 dots (72 mm).
  string(REPLACE "PageSize[136 " "PageSize[136.2 " text "${text}")
  string(REPLACE "PageSize[148 " "PageSize[147.6 " text "${text}")
  string(REPLACE "PageSize[204 " "PageSize[204.3 " text "${text}")
  file(WRITE ${file} "${text}")
endforeach()
