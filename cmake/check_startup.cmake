# cmake -DMAP=<link map> -P check_startup.cmake
# Fails when the linked program would need the C runtime's start-up work,
# which its own entry point does not do: constructors or destructors of
# globals (.ctors/.dtors, .CRT, init arrays), thread-local data (.tls).
# An implicit call that nothing resolves already fails the link itself.
if(NOT EXISTS "${MAP}")
  message(FATAL_ERROR "no link map: ${MAP}")
endif()
file(STRINGS "${MAP}" lines REGEX "\\((\\.ctors|\\.dtors|\\.CRT|\\.tls|\\.init_array|\\.fini_array)")
if(lines)
  list(JOIN lines "\n" found)
  message(FATAL_ERROR "${MAP}: the program needs the runtime's start-up work (a global with a dynamic "
    "initializer or destructor, or thread-local data):\n${found}")
endif()
