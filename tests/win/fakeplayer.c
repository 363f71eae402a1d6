/* fakeplayer.exe: a stand-in for a Windows media player.
 *
 * Appends one record to the file beside itself named after its own path
 * plus ".rec" (fakeplayer.exe.rec), then plays MDK_PLAY_MS milliseconds
 * when that variable is set, then exits with code 0. A record is a
 * run of fields (see fields.h):
 *   rec       its process id (starts the record)
 *   cmdline   GetCommandLineA, exactly
 *   wcmdline  GetCommandLineW, exactly, in UTF-8
 *   flags     STARTUPINFO dwFlags, decimal
 *   show      STARTUPINFO wShowWindow, decimal
 *   cwd       the current folder
 *   username  the value of USERNAME; the field is absent when it is unset
 *   end       empty (ends the record; a record without it is incomplete) */
#include "fields.h"

int WINAPI WinMain(HINSTANCE inst, HINSTANCE prev, LPSTR args, int show) {
  (void)inst; (void)prev; (void)args; (void)show;
  WCHAR rec[MAX_PATH + 16];
  char cwd[MAX_PATH + 1];
  DWORD n = GetModuleFileNameW(NULL, rec, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return 1;
  wcscat(rec, L".rec");
  STARTUPINFOA si;
  memset(&si, 0, sizeof si);
  si.cb = sizeof si;
  GetStartupInfoA(&si);
  MdkOut o = {0};
  mdk_out_long(&o, "rec", (long long)GetCurrentProcessId());
  mdk_out_text(&o, "cmdline", GetCommandLineA());
  const WCHAR *wide = GetCommandLineW();
  int length = WideCharToMultiByte(CP_UTF8, 0, wide, -1, NULL, 0, NULL, NULL);
  char *utf8 = length > 0 ? malloc(length) : NULL;
  if (utf8 && WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, length, NULL, NULL) > 0)
    mdk_out_text(&o, "wcmdline", utf8);
  free(utf8);
  mdk_out_long(&o, "flags", (long long)si.dwFlags);
  mdk_out_long(&o, "show", (long long)si.wShowWindow);
  DWORD c = GetCurrentDirectoryA(sizeof cwd, cwd);
  mdk_out_field(&o, "cwd", cwd, c < sizeof cwd ? c : 0);
  char user[512];
  SetLastError(0);
  DWORD u = GetEnvironmentVariableA("USERNAME", user, sizeof user);
  if (u > 0 && u < sizeof user) mdk_out_field(&o, "username", user, u);
  else if (u == 0 && GetLastError() != ERROR_ENVVAR_NOT_FOUND) mdk_out_text(&o, "username", "");
  mdk_out_text(&o, "end", "");
  if (!mdk_out_append_w(&o, rec)) return 1;
  char play[32];
  DWORD p = GetEnvironmentVariableA("MDK_PLAY_MS", play, sizeof play);
  if (p > 0 && p < sizeof play) Sleep((DWORD)atol(play));
  return 0;
}
