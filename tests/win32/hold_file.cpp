// brevlith_hold_file NAME: opens NAME for reading with share mode 0, says
// "held" on standard output, and keeps the file open until standard input
// ends. Exit code 2 when the file cannot be opened.
#include <windows.h>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const HANDLE file =
      CreateFileA(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 2;
  DWORD n;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "held\n", 5, &n, nullptr);
  char byte;
  while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), &byte, 1, &n, nullptr) && n == 1) {
  }
  CloseHandle(file);
  return 0;
}
