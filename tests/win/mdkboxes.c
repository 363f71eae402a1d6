/* mdkboxes.exe: a small program with known behaviour, for checking the
 * harness itself.
 *   mdkboxes.exe            shows a Yes/No question box titled "mdkboxes Q"
 *                           with the text "first\r\rsecond", then an OK
 *                           information box titled "mdkboxes I" with the text
 *                           "answer=N" (N the first answer); exits with code
 *                           100 + the first answer.
 *   mdkboxes.exe hang       never ends.
 *   mdkboxes.exe env NAME   exits with the length of variable NAME, or 999
 *                           when it is unset. */
#include <windows.h>
#include <stdio.h>
#include <string.h>

int WINAPI WinMain(HINSTANCE inst, HINSTANCE prev, LPSTR tail, int show) {
  (void)inst; (void)prev; (void)show;
  if (!strcmp(tail, "hang")) {
    Sleep(INFINITE);
    return 1;
  }
  if (!strncmp(tail, "env ", 4)) {
    char v[4096];
    SetLastError(0);
    DWORD n = GetEnvironmentVariableA(tail + 4, v, sizeof v);
    return n == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND ? 999 : (int)n;
  }
  int a = MessageBoxA(NULL, "first\r\rsecond", "mdkboxes Q", MB_YESNO | MB_ICONQUESTION);
  char text[64];
  snprintf(text, sizeof text, "answer=%d", a);
  MessageBoxA(NULL, text, "mdkboxes I", MB_OK | MB_ICONINFORMATION);
  return 100 + a;
}
