# qva_interfaces(NAME): generates NAME_idl.h and NAME_dispatch.cc from idl/NAME.idl into
# ${CMAKE_BINARY_DIR}/gen and makes the target NAME_idl that builds them. The dispatch source
# is returned in ${NAME}_DISPATCH_SOURCE for the library that serves the interfaces.
set(QVA_GEN_DIR ${CMAKE_BINARY_DIR}/gen)
function(qva_interfaces name)
  set(idl ${PROJECT_SOURCE_DIR}/idl/${name}.idl)
  add_custom_command(
    OUTPUT ${QVA_GEN_DIR}/${name}_idl.h ${QVA_GEN_DIR}/${name}_dispatch.cc
    COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/idl/generate.py ${idl} ${QVA_GEN_DIR} ${name}
    DEPENDS ${idl} ${PROJECT_SOURCE_DIR}/idl/generate.py ${PROJECT_SOURCE_DIR}/idl/idl_parser.py
    COMMENT "Generating interfaces and dispatch tables from ${name}.idl"
    VERBATIM)
  add_custom_target(${name}_idl DEPENDS ${QVA_GEN_DIR}/${name}_idl.h)
  set(${name}_DISPATCH_SOURCE ${QVA_GEN_DIR}/${name}_dispatch.cc PARENT_SCOPE)
endfunction()
