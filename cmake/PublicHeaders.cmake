# The public interface: the headers of the classes a host calls and of the
# companion types their signatures need. Only these are installed, under
# include/mcreg/<folder>/, with their includes rewritten from "<folder>/X.h"
# to "mcreg/<folder>/X.h", so that a host's include path carries nothing but
# mcreg/. Every other header is internal. A public header (or the umbrella
# mcreg.h) that includes an internal one stops the configuration, and the
# reference host (host/, cli/) includes only these: tools/include-graph.sh
# --check fails on an internal one, so the host needs nothing a third-party
# host could not have. What they declare for a host to call is marked
# MCREG_API (companion/MCExport.h); libmcreg.so exports nothing else.
set(MCREG_PUBLIC_HEADERS
  # What libmcreg.so exports is marked MCREG_API.
  companion/MCExport.h
  # Companion types of the public signatures.
  companion/MCBitSet.h
  companion/MCCancelInfo.h
  companion/MCDiagMatrix.h
  companion/MCDisplay.h
  companion/MCDistFun.h
  companion/MCHashKey.h
  companion/MCIterationReporter.h
  companion/MCMemoryRecordIter.h
  companion/MCMV.h
  companion/PassReducer.h
  companion/MCRectMatrix.h
  companion/MCStatus.h
  companion/MCStatusCodes.h
  companion/MCSymMatrix.h
  companion/MCVarList.h
  companion/MCXMLElement.h
  companion/Record.h
  companion/RecordIterator.h
  # Helpers the reference host shares with the library: the int-to-index
  # conversion, the double-double arithmetic of the compensated sums, and the
  # UTF-8 reading of texts.
  companion/DoubleDouble.h
  companion/MCIndex.h
  companion/Utf8.h
  # Settings, factory, components and the output-statistics interface.
  components/IMCRegComponent.h
  settings/IMCRegInterfaces.h
  settings/MCConst.h
  components/MCGLMComponent.h
  components/MCLogComponent.h
  settings/MCLogRegSettings.h
  settings/MCModelEffect.h
  components/MCRegFactory.h
  settings/MCRegrParameterStats.h
  settings/MCRegSettings.h
  glm/MCGLMOutputStats.h
  logistic/MCLogOutputStats.h
  # Data: the binary record iterator, and what the statistics lend.
  data/BinaryRecordIterator.h
  data/MCFactorCounts.h
  data/MCHashtable.h
  data/MCRegRecordValidator.h
  # Design building blocks: the parameters, the contrasts and the rows of L
  # that the tests and marginal means take.
  design/MCContrasts.h
  design/MCLiteDesignMatrix.h
  design/MCParameterList.h
  design/MCRegrParameter.h
  # Link functions (through CreateLinkFunction).
  link/IMCLinkFunc.h
  # Tests.
  hypothesis/MCModelEffectTest.h
  hypothesis/MCModelTestStats.h
  hypothesis/MCModelTests.h
  hypothesis/MCSatterthwaite.h
  hypothesis/MCTestStats.h
  # Marginal means.
  marginals/MCEmmeansSpec.h
  marginals/MCEmmeansStats.h
  marginals/MCEmmeansTest.h
  marginals/MCMarginals.h
  marginals/MCMultiCompareMarginals.h
  # DoreZAD and PMML elements.
  export/MCPMMLRegrExporter.h
  export/MCPMMLTags.h
  export/MCRegrDoreZADUtil.h)

set(_stage ${PROJECT_BINARY_DIR}/public)
# A header taken off the list leaves the stage, and so the installation.
file(GLOB_RECURSE _staged RELATIVE ${_stage}/mcreg ${_stage}/mcreg/*.h)
foreach(h IN LISTS _staged)
  if(NOT h IN_LIST MCREG_PUBLIC_HEADERS AND NOT h STREQUAL "mcreg.h")
    file(REMOVE ${_stage}/mcreg/${h})
  endif()
endforeach()
foreach(h IN LISTS MCREG_PUBLIC_HEADERS ITEMS include/mcreg/mcreg.h)
  set(_src ${PROJECT_SOURCE_DIR}/${h})
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_src})
  file(READ ${_src} _text)
  string(REGEX MATCHALL "#include \"[a-z]+/[A-Za-z0-9_]+\\.h\"" _includes "${_text}")
  foreach(_inc IN LISTS _includes)
    string(REGEX REPLACE "#include \"(.*)\"" "\\1" _inc "${_inc}")
    if(NOT _inc IN_LIST MCREG_PUBLIC_HEADERS)
      message(FATAL_ERROR "The public header ${h} includes the internal header ${_inc}: "
                          "make ${_inc} public (cmake/PublicHeaders.cmake) or drop the include.")
    endif()
  endforeach()
  string(REGEX REPLACE "#include \"([a-z]+/[A-Za-z0-9_]+\\.h)\"" "#include \"mcreg/\\1\""
         _text "${_text}")
  if(h STREQUAL "include/mcreg/mcreg.h")
    set(_out ${_stage}/mcreg/mcreg.h)
  else()
    set(_out ${_stage}/mcreg/${h})
  endif()
  # Written only when changed, so that a configuration rebuilds nothing.
  file(WRITE ${_out}.tmp "${_text}")
  configure_file(${_out}.tmp ${_out} COPYONLY)
  file(REMOVE ${_out}.tmp)
endforeach()
install(DIRECTORY ${_stage}/mcreg DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
