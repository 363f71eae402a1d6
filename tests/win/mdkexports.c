/* mdkexports.exe JOBFILE RESULTFILE
 *
 * Loads an executable with LoadLibraryA, binds its import address table
 * itself (the loader binds imports for DLLs only), then calls its exports
 * GETINIS, GETINIV and DELREGKEY as the job asks and writes the results as a
 * field file (see fields.h).
 *
 * Job fields:
 *   exe        path of the executable to load (first)
 *   then any number of operations, each an operation field (value ignored)
 *   followed by its argument fields:
 *     GETINIS   text text text      -> result field GETINIS (the bytes), or
 *                                      GETINIS.null when a null handle came back
 *     GETINIV   text text text      -> result field GETINIV (decimal)
 *     DELREGKEY root text           -> result field DELREGKEY (decimal)
 *     regcreate root text           -> result field regcreate (RegCreateKeyExA's code)
 *     regexists root text           -> result field regexists (1 or 0)
 *   A text argument is a field "s" (its bytes become a BSTR made with
 *   SysAllocStringByteLen) or "n" (a null BSTR); root is a field "root"
 *   holding a number (decimal or 0x hex, e.g. 0x80000001 for HKCU).
 *
 * Texts passed by value become the callee's and are not freed here; texts
 * passed by reference stay ours and are freed after the call; returned texts
 * are freed here after reading them.
 *
 * Result fields: load 1|0 (error when 0), bound (number of import slots
 * written), unbound (one per import that could not be found), export.NAME
 * 1|0 for each export, then one result field per operation. If the called
 * code crashes, a field crash holds the exception code and the file ends. */
#include "fields.h"
#include <oleauto.h>
#include <stdint.h>

typedef BSTR(WINAPI *GetInisFn)(BSTR, BSTR, BSTR);
typedef int32_t(WINAPI *GetInivFn)(BSTR, BSTR, BSTR);
typedef int32_t(WINAPI *DelRegKeyFn)(uint32_t *, BSTR *);

static MdkOut out;
static const char *resultPath;

static LONG WINAPI on_crash(EXCEPTION_POINTERS *e) {
  mdk_out_long(&out, "crash", (long long)e->ExceptionRecord->ExceptionCode);
  mdk_out_save(&out, resultPath);
  ExitProcess(4);
  return EXCEPTION_EXECUTE_HANDLER;
}

/* Writes the addresses of every imported function into the module's IAT. */
static long bind_imports(HMODULE mod) {
  BYTE *base = (BYTE *)mod;
  IMAGE_DOS_HEADER *dos = (IMAGE_DOS_HEADER *)base;
  IMAGE_NT_HEADERS *nt = (IMAGE_NT_HEADERS *)(base + dos->e_lfanew);
  IMAGE_DATA_DIRECTORY dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  long bound = 0;
  if (!dir.VirtualAddress) return 0;
  for (IMAGE_IMPORT_DESCRIPTOR *d = (IMAGE_IMPORT_DESCRIPTOR *)(base + dir.VirtualAddress); d->Name; d++) {
    const char *dll = (const char *)(base + d->Name);
    HMODULE h = LoadLibraryA(dll);
    IMAGE_THUNK_DATA *look = (IMAGE_THUNK_DATA *)(base + (d->OriginalFirstThunk ? d->OriginalFirstThunk : d->FirstThunk));
    IMAGE_THUNK_DATA *slot = (IMAGE_THUNK_DATA *)(base + d->FirstThunk);
    for (; look->u1.AddressOfData; look++, slot++) {
      FARPROC p = NULL;
      char what[300];
      if (IMAGE_SNAP_BY_ORDINAL(look->u1.Ordinal)) {
        WORD ord = (WORD)IMAGE_ORDINAL(look->u1.Ordinal);
        snprintf(what, sizeof what, "%s#%u", dll, ord);
        if (h) p = GetProcAddress(h, MAKEINTRESOURCEA(ord));
      } else {
        IMAGE_IMPORT_BY_NAME *ibn = (IMAGE_IMPORT_BY_NAME *)(base + look->u1.AddressOfData);
        snprintf(what, sizeof what, "%s!%s", dll, (const char *)ibn->Name);
        if (h) p = GetProcAddress(h, (const char *)ibn->Name);
      }
      if (!p) {
        mdk_out_text(&out, "unbound", what);
        continue;
      }
      DWORD old = 0;
      if (VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, PAGE_READWRITE, &old)) {
        slot->u1.Function = (ULONG_PTR)p;
        VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, old, &old);
        bound++;
      } else {
        mdk_out_text(&out, "unbound", what);
      }
    }
  }
  return bound;
}

/* Takes the next text argument (field s or n) as a new BSTR. */
static int next_text(MdkFields *job, int *i, BSTR *b) {
  if (*i >= job->count) return 0;
  MdkField *f = &job->items[*i];
  if (!strcmp(f->key, "n")) *b = NULL;
  else if (!strcmp(f->key, "s")) *b = SysAllocStringByteLen(f->value, f->len);
  else return 0;
  (*i)++;
  return 1;
}

static int next_root(MdkFields *job, int *i, uint32_t *root) {
  if (*i >= job->count || strcmp(job->items[*i].key, "root")) return 0;
  *root = (uint32_t)strtoul(job->items[*i].value, NULL, 0);
  (*i)++;
  return 1;
}

int main(int argc, char **argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: mdkexports JOBFILE RESULTFILE\n");
    return 2;
  }
  MdkFields job;
  if (!mdk_parse_fields(argv[1], &job) || job.count < 1 || strcmp(job.items[0].key, "exe")) {
    fprintf(stderr, "mdkexports: bad job file %s\n", argv[1]);
    return 2;
  }
  resultPath = argv[2];
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  SetUnhandledExceptionFilter(on_crash);

  HMODULE mod = LoadLibraryA(job.items[0].value);
  if (!mod) {
    mdk_out_long(&out, "load", 0);
    mdk_out_long(&out, "error", (long long)GetLastError());
    return mdk_out_save(&out, resultPath) ? 0 : 3;
  }
  mdk_out_long(&out, "load", 1);
  mdk_out_long(&out, "bound", bind_imports(mod));
  GetInisFn getinis = (GetInisFn)(void *)GetProcAddress(mod, "GETINIS");
  GetInivFn getiniv = (GetInivFn)(void *)GetProcAddress(mod, "GETINIV");
  DelRegKeyFn delregkey = (DelRegKeyFn)(void *)GetProcAddress(mod, "DELREGKEY");
  mdk_out_long(&out, "export.GETINIS", getinis != NULL);
  mdk_out_long(&out, "export.GETINIV", getiniv != NULL);
  mdk_out_long(&out, "export.DELREGKEY", delregkey != NULL);

  for (int i = 1; i < job.count;) {
    const char *op = job.items[i++].key;
    BSTR a = NULL, b = NULL, c = NULL;
    uint32_t root = 0;
    if (!strcmp(op, "GETINIS") || !strcmp(op, "GETINIV")) {
      if (!next_text(&job, &i, &a) || !next_text(&job, &i, &b) || !next_text(&job, &i, &c)) {
        mdk_out_text(&out, "badjob", op);
        break;
      }
      if (op[6] == 'S') {
        if (!getinis) { mdk_out_text(&out, "missing", op); continue; }
        BSTR r = getinis(a, b, c);
        if (r) {
          mdk_out_field(&out, "GETINIS", (const char *)r, SysStringByteLen(r));
          SysFreeString(r);
        } else {
          mdk_out_text(&out, "GETINIS.null", "");
        }
      } else {
        if (!getiniv) { mdk_out_text(&out, "missing", op); continue; }
        mdk_out_long(&out, "GETINIV", getiniv(a, b, c));
      }
    } else if (!strcmp(op, "DELREGKEY") || !strcmp(op, "regcreate") || !strcmp(op, "regexists")) {
      if (!next_root(&job, &i, &root) || !next_text(&job, &i, &a)) {
        mdk_out_text(&out, "badjob", op);
        break;
      }
      if (op[0] == 'D') {
        if (!delregkey) { mdk_out_text(&out, "missing", op); SysFreeString(a); continue; }
        uint32_t r = root;
        BSTR s = a;
        mdk_out_long(&out, "DELREGKEY", delregkey(&r, &s));
        SysFreeString(s);
      } else {
        char key[1024];
        UINT n = SysStringByteLen(a);
        if (n >= sizeof key) n = sizeof key - 1;
        memcpy(key, a ? (const char *)a : "", n);
        key[n] = 0;
        SysFreeString(a);
        HKEY k = NULL;
        if (op[3] == 'c') {
          LONG rc = RegCreateKeyExA((HKEY)(ULONG_PTR)root, key, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &k, NULL);
          if (rc == ERROR_SUCCESS) RegCloseKey(k);
          mdk_out_long(&out, "regcreate", rc);
        } else {
          LONG rc = RegOpenKeyExA((HKEY)(ULONG_PTR)root, key, 0, KEY_READ, &k);
          if (rc == ERROR_SUCCESS) RegCloseKey(k);
          mdk_out_long(&out, "regexists", rc == ERROR_SUCCESS);
        }
      }
    } else {
      mdk_out_text(&out, "badjob", op);
      break;
    }
  }
  return mdk_out_save(&out, resultPath) ? 0 : 3;
}
