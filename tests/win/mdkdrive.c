/* mdkdrive.exe JOBFILE RESULTFILE
 *
 * Starts one program with an exact command line, watches it for message
 * boxes, answers them, waits (bounded) for it to end and writes what happened
 * as a field file (see fields.h).
 *
 * Job fields:
 *   cmd        the exact command line (required)
 *   cwd        working folder of the started program (default: inherited)
 *   unset      NAME: remove the variable from the program's environment
 *   set        NAME=VALUE: set the variable in the program's environment
 *   answer     button id to press on the next message box (6 yes, 7 no,
 *              1 ok); one field per box, in order. When the list is used up,
 *              OK is pressed if present, else No, else Cancel.
 *   timeout_ms bound on the whole run (default 90000); the program is killed
 *              when it is reached.
 *   stdin      FILE: the program's standard input is a pipe, into which the
 *              file's bytes are written (then the pipe is closed).
 *   stdout, stderr  "pipe": the program's standard output (error) is a
 *              pipe, read to its end; "closed": a pipe whose reading end is
 *              closed once the program has started; else FILE: a file made
 *              anew for it.
 *   terminate_when FILE: the program is terminated (TerminateProcess) once
 *              FILE exists, after
 *   terminate_ms   more milliseconds (default 0).
 *
 * Result fields, in this order:
 *   started 1|0, error (GetLastError, only when not started), pid;
 *   per message box: box (its index from 0), title, text, buttons (ids of
 *   the box's buttons, comma-separated, in window order), icon (shown or
 *   none), answer (id pressed);
 *   terminated_at (Unix time in ms, when it was terminated);
 *   exit (exit code), timeout 1|0, ms (time from start to end), end_at
 *   (Unix time in ms of the end); stdout, stderr (what the pipes gave). */
#include "fields.h"

#define MAX_BOXES 64

typedef struct {
  DWORD pid;
  HWND found;
  HWND seen[MAX_BOXES];
  int seenCount;
} FindState;

static int already_seen(FindState *s, HWND w) {
  for (int i = 0; i < s->seenCount; i++)
    if (s->seen[i] == w) return 1;
  return 0;
}

static BOOL CALLBACK find_box(HWND w, LPARAM lp) {
  FindState *s = (FindState *)lp;
  DWORD pid = 0;
  char cls[32];
  GetWindowThreadProcessId(w, &pid);
  if (pid != s->pid || !IsWindowVisible(w)) return TRUE;
  if (!GetClassNameA(w, cls, sizeof cls) || strcmp(cls, "#32770") != 0) return TRUE;
  if (already_seen(s, w)) return TRUE;
  s->found = w;
  return FALSE;
}

typedef struct {
  char ids[256];
  size_t len;
  int hasOk, hasNo;
} Buttons;

static BOOL CALLBACK collect_button(HWND w, LPARAM lp) {
  Buttons *b = (Buttons *)lp;
  char cls[32];
  if (!GetClassNameA(w, cls, sizeof cls) || lstrcmpiA(cls, "Button") != 0) return TRUE;
  if (!IsWindowVisible(w)) return TRUE;
  int id = GetDlgCtrlID(w);
  if (id == IDOK) b->hasOk = 1;
  if (id == IDNO) b->hasNo = 1;
  if (b->len + 16 < sizeof b->ids)
    b->len += (size_t)snprintf(b->ids + b->len, sizeof b->ids - b->len, "%s%d", b->len ? "," : "", id);
  return TRUE;
}

/* The text of a window or control, any length, CR characters kept. */
static char *window_text(HWND w) {
  int n = GetWindowTextLengthA(w);
  char *t = (char *)malloc((size_t)n + 2);
  t[0] = 0;
  if (n >= 0) GetWindowTextA(w, t, n + 1);
  return t;
}

/* "shown" when the box shows an icon, else "none". (Which standard icon it
 * is cannot be told from here: icon handles are not shared between
 * processes.) */
static const char *icon_name(HWND box) {
  /* The message box's icon is a static control with id 0x440 (1088). */
  HWND st = GetDlgItem(box, 0x440);
  if (!st || !IsWindowVisible(st)) return "none";
  return SendMessageA(st, STM_GETICON, 0, 0) ? "shown" : "none";
}

/* Builds an environment block from ours with the job's changes. */
static char *make_environment(MdkFields *job) {
  char *cur = GetEnvironmentStringsA();
  MdkOut o = {0};
  for (char *p = cur; *p; p += strlen(p) + 1) {
    const char *eq = strchr(p + 1, '=');  /* entries like "=C:=C:\" keep their leading '=' */
    size_t nameLen = eq ? (size_t)(eq - p) : strlen(p);
    int drop = 0;
    for (int i = 0; i < job->count && !drop; i++) {
      MdkField *f = &job->items[i];
      size_t n;
      if (!strcmp(f->key, "unset")) n = f->len;
      else if (!strcmp(f->key, "set")) n = strchr(f->value, '=') ? (size_t)(strchr(f->value, '=') - f->value) : f->len;
      else continue;
      if (n == nameLen && !_strnicmp(p, f->value, n)) drop = 1;
    }
    if (!drop) mdk_out_bytes(&o, p, strlen(p) + 1);
  }
  FreeEnvironmentStringsA(cur);
  for (int i = 0; i < job->count; i++)
    if (!strcmp(job->items[i].key, "set")) mdk_out_bytes(&o, job->items[i].value, job->items[i].len + 1);
  mdk_out_bytes(&o, "\0", 1);
  return o.data;
}

/* Milliseconds since 1970 (Wine's system time is the host's). */
static long long unix_ms(void) {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  ULONGLONG t = ((ULONGLONG)ft.dwHighDateTime << 32) | ft.dwLowDateTime;
  return (long long)((t - 116444736000000000ULL) / 10000);
}

typedef struct {
  HANDLE pipe;
  char *bytes;
  DWORD size;
} Feed;

/* Writes the whole file into the program's standard input, then closes it. */
static DWORD WINAPI feed_input(void *arg) {
  Feed *f = (Feed *)arg;
  DWORD done = 0, put = 0;
  while (done < f->size && WriteFile(f->pipe, f->bytes + done, f->size - done, &put, NULL) && put) done += put;
  CloseHandle(f->pipe);
  return 0;
}

/* The Unix time in ms at which the program ended, taken by a thread of its
 * own: the main loop may be held up (EnumWindows waits for Wine's desktop
 * process while that starts). */
static volatile long long endedAt;

static DWORD WINAPI note_end(void *process) {
  WaitForSingleObject((HANDLE)process, INFINITE);
  endedAt = unix_ms();
  return 0;
}

typedef struct {
  HANDLE pipe;
  MdkOut got;
} Drain;

/* Reads the program's output pipe to its end. */
static DWORD WINAPI drain_output(void *arg) {
  Drain *d = (Drain *)arg;
  char buffer[65536];
  DWORD n = 0;
  while (ReadFile(d->pipe, buffer, sizeof buffer, &n, NULL) && n) mdk_out_bytes(&d->got, buffer, n);
  return 0;
}

/* The child's end of an output: a pipe whose other end `drain` reads, or a
 * new file. NULL when none was asked for. */
static HANDLE output_for(const char *how, Drain *drain, SECURITY_ATTRIBUTES *sa) {
  HANDLE child = NULL;
  if (!how) return NULL;
  if (!strcmp(how, "pipe") || !strcmp(how, "closed")) {
    if (!CreatePipe(&drain->pipe, &child, sa, 0)) return NULL;
    SetHandleInformation(drain->pipe, HANDLE_FLAG_INHERIT, 0);
    return child;
  }
  child = CreateFileA(how, GENERIC_WRITE, FILE_SHARE_READ, sa, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  return child == INVALID_HANDLE_VALUE ? NULL : child;
}

int main(int argc, char **argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: mdkdrive JOBFILE RESULTFILE\n");
    return 2;
  }
  MdkFields job;
  if (!mdk_parse_fields(argv[1], &job)) {
    fprintf(stderr, "mdkdrive: bad job file %s\n", argv[1]);
    return 2;
  }
  const char *cmd = NULL, *cwd = NULL, *input = NULL, *terminateWhen = NULL, *outputs[2] = {NULL, NULL};
  DWORD terminateMs = 0;
  int answers[MAX_BOXES], answerCount = 0, changesEnv = 0;
  DWORD timeoutMs = 90000;
  for (int i = 0; i < job.count; i++) {
    MdkField *f = &job.items[i];
    if (!strcmp(f->key, "cmd")) cmd = f->value;
    else if (!strcmp(f->key, "cwd")) cwd = f->value;
    else if (!strcmp(f->key, "answer") && answerCount < MAX_BOXES) answers[answerCount++] = atoi(f->value);
    else if (!strcmp(f->key, "timeout_ms")) timeoutMs = (DWORD)strtoul(f->value, NULL, 10);
    else if (!strcmp(f->key, "unset") || !strcmp(f->key, "set")) changesEnv = 1;
    else if (!strcmp(f->key, "stdin")) input = f->value;
    else if (!strcmp(f->key, "stdout")) outputs[0] = f->value;
    else if (!strcmp(f->key, "stderr")) outputs[1] = f->value;
    else if (!strcmp(f->key, "terminate_when")) terminateWhen = f->value;
    else if (!strcmp(f->key, "terminate_ms")) terminateMs = (DWORD)strtoul(f->value, NULL, 10);
  }
  if (!cmd) {
    fprintf(stderr, "mdkdrive: no cmd field\n");
    return 2;
  }

  MdkOut out = {0};
  char *env = changesEnv ? make_environment(&job) : NULL;
  char *line = _strdup(cmd);
  STARTUPINFOA si;
  PROCESS_INFORMATION pi;
  memset(&si, 0, sizeof si);
  si.cb = sizeof si;
  Feed feed = {0};
  HANDLE childInput = NULL;
  if (input) {
    SECURITY_ATTRIBUTES sa = {sizeof sa, NULL, TRUE};
    if (!(feed.bytes = mdk_read_file(input, &feed.size)) || !CreatePipe(&childInput, &feed.pipe, &sa, 0)) {
      fprintf(stderr, "mdkdrive: cannot feed %s\n", input);
      return 2;
    }
    SetHandleInformation(feed.pipe, HANDLE_FLAG_INHERIT, 0);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = childInput;
  }
  Drain drains[2];
  HANDLE childOutputs[2];
  memset(drains, 0, sizeof drains);
  for (int i = 0; i < 2; i++) {
    SECURITY_ATTRIBUTES sa = {sizeof sa, NULL, TRUE};
    childOutputs[i] = output_for(outputs[i], &drains[i], &sa);
    if (outputs[i] && !childOutputs[i]) {
      fprintf(stderr, "mdkdrive: cannot make %s\n", outputs[i]);
      return 2;
    }
    if (outputs[i]) si.dwFlags = STARTF_USESTDHANDLES;
  }
  si.hStdOutput = childOutputs[0];
  si.hStdError = childOutputs[1];
  const BOOL inherits = input != NULL || outputs[0] || outputs[1];
  DWORD t0 = GetTickCount();
  if (!CreateProcessA(NULL, line, NULL, NULL, inherits, 0, env, cwd, &si, &pi)) {
    mdk_out_long(&out, "started", 0);
    mdk_out_long(&out, "error", (long long)GetLastError());
    return mdk_out_save(&out, argv[2]) ? 0 : 3;
  }
  mdk_out_long(&out, "started", 1);
  mdk_out_long(&out, "pid", (long long)pi.dwProcessId);
  HANDLE endNoter = CreateThread(NULL, 0, note_end, pi.hProcess, 0, NULL);
  if (input) {
    CloseHandle(childInput);
    CloseHandle(CreateThread(NULL, 0, feed_input, &feed, 0, NULL));
  }
  HANDLE drainers[2] = {NULL, NULL};
  for (int i = 0; i < 2; i++) {
    if (childOutputs[i]) CloseHandle(childOutputs[i]);
    if (drains[i].pipe && !strcmp(outputs[i], "closed")) {
      CloseHandle(drains[i].pipe);
      drains[i].pipe = NULL;
    }
    if (drains[i].pipe) drainers[i] = CreateThread(NULL, 0, drain_output, &drains[i], 0, NULL);
  }
  DWORD seenAt = 0;

  FindState fs;
  memset(&fs, 0, sizeof fs);
  fs.pid = pi.dwProcessId;
  int boxes = 0, timedOut = 0;
  HWND pending = NULL; /* a box we answered and that is still open */
  for (;;) {
    if (WaitForSingleObject(pi.hProcess, 15) == WAIT_OBJECT_0) break;
    if (GetTickCount() - t0 > timeoutMs) {
      TerminateProcess(pi.hProcess, 0xDEAD);
      WaitForSingleObject(pi.hProcess, 5000);
      timedOut = 1;
      break;
    }
    if (terminateWhen && GetFileAttributesA(terminateWhen) != INVALID_FILE_ATTRIBUTES) {
      if (!seenAt) seenAt = GetTickCount();
      if (GetTickCount() - seenAt >= terminateMs) {
        mdk_out_long(&out, "terminated_at", unix_ms());
        TerminateProcess(pi.hProcess, 0xDEAD);
        terminateWhen = NULL;
      }
    }
    if (pending) {
      if (IsWindow(pending)) continue;
      pending = NULL;
    }
    fs.found = NULL;
    EnumWindows(find_box, (LPARAM)&fs);
    if (!fs.found || fs.seenCount >= MAX_BOXES) continue;
    HWND box = fs.found;
    fs.seen[fs.seenCount++] = box;
    char *title = window_text(box);
    HWND st = GetDlgItem(box, 0xFFFF);
    char *text = st ? window_text(st) : _strdup("");
    Buttons b;
    memset(&b, 0, sizeof b);
    EnumChildWindows(box, collect_button, (LPARAM)&b);
    int answer = boxes < answerCount ? answers[boxes] : (b.hasOk ? IDOK : b.hasNo ? IDNO : IDCANCEL);
    mdk_out_long(&out, "box", boxes);
    mdk_out_text(&out, "title", title);
    mdk_out_text(&out, "text", text);
    mdk_out_field(&out, "buttons", b.ids, b.len);
    mdk_out_text(&out, "icon", icon_name(box));
    mdk_out_long(&out, "answer", answer);
    free(title);
    free(text);
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), 0);
    pending = box;
    boxes++;
  }
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  mdk_out_long(&out, "exit", (long long)code);
  mdk_out_long(&out, "timeout", timedOut);
  mdk_out_long(&out, "ms", (long long)(GetTickCount() - t0));
  WaitForSingleObject(endNoter, 5000);
  mdk_out_long(&out, "end_at", endedAt ? endedAt : unix_ms());
  static const char *const kOutputNames[2] = {"stdout", "stderr"};
  for (int i = 0; i < 2; i++) {
    if (!drainers[i]) continue;
    /* (A pipe still held by something the program left running is not
     * waited for past this.) */
    WaitForSingleObject(drainers[i], 5000);
    mdk_out_field(&out, kOutputNames[i], drains[i].got.data, drains[i].got.len);
  }
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return mdk_out_save(&out, argv[2]) ? 0 : 3;
}
