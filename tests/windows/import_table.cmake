# The program calls the system directly: its import table names AVICAP32, WSOCK32, USER32,
# GDI32 and COMCTL32 (each for calls of its own), no runtime library of the compiler (they
# are linked in), and nothing of platform/ is inside it.
#   cmake -DPROGRAM=corvantis.exe -DOBJDUMP=x86_64-w64-mingw32-objdump -P import_table.cmake
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM} OUTPUT_VARIABLE headers RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "cannot read ${PROGRAM}")
endif()

# "DLL Name: USER32.dll" opens the list of what is imported from it.
string(REGEX MATCHALL "DLL Name: [^\n]+" names "${headers}")
string(REPLACE "DLL Name: " "" names "${names}")
message(STATUS "imports: ${names}")

# Each library with a call it must give.
foreach(pair AVICAP32:capCreateCaptureWindowA WSOCK32:gethostbyname USER32:DialogBoxParamA
             GDI32:GetDIBits COMCTL32:InitCommonControls KERNEL32:GlobalAlloc)
  string(REPLACE ":" ";" pair "${pair}")
  list(GET pair 0 library)
  list(GET pair 1 call)
  if(NOT "${library}.dll" IN_LIST names)
    message(FATAL_ERROR "${library}.dll is not imported")
  endif()
  string(REGEX MATCH "DLL Name: ${library}.dll\n[^\n]*\n(\t[^\n]*\n)*" section "${headers}")
  if(NOT section MATCHES "[ \t]${call}\n")
    message(FATAL_ERROR "${call} is not imported from ${library}.dll")
  endif()
endforeach()

foreach(name ${names})
  if(name MATCHES "^(libstdc|libgcc|libwinpthread)")
    message(FATAL_ERROR "${name} is imported: the runtime must be linked in")
  endif()
endforeach()

# platform/ keeps its own code in namespace platform (mangled _ZN8platform); were any of it
# linked in, the calls above would not be imported either.
execute_process(COMMAND ${OBJDUMP} -t ${PROGRAM} OUTPUT_VARIABLE symbols)
if(symbols MATCHES "_ZN8platform")
  message(FATAL_ERROR "the program holds code of platform/")
endif()
