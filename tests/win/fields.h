/* Field files shared by the Windows test tools and the host harness.
 *
 * A field file is a sequence of fields, each written as
 *     <key> SP <decimal byte count> ':' <bytes> LF
 * The key holds no blank; the bytes are taken as they are (CR, LF, quotes and
 * any other byte, NUL included), so every value reads back exactly. */
#ifndef MDK_FIELDS_H
#define MDK_FIELDS_H

#include <windows.h>
#include <stdlib.h>
#include <string.h>
#include <stdio.h>

typedef struct {
  char key[64];
  char *value; /* NUL-terminated copy; len gives the real length */
  DWORD len;
} MdkField;

typedef struct {
  MdkField *items;
  int count;
} MdkFields;

/* Reads a whole file into a new buffer (NUL-terminated); NULL on failure. */
static inline char *mdk_read_file(const char *path, DWORD *size) {
  HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (h == INVALID_HANDLE_VALUE) return NULL;
  DWORD n = GetFileSize(h, NULL), got = 0;
  char *buf = (char *)malloc(n + 1);
  if (!buf || (n && !ReadFile(h, buf, n, &got, NULL)) || got != n) {
    free(buf);
    CloseHandle(h);
    return NULL;
  }
  CloseHandle(h);
  buf[n] = 0;
  if (size) *size = n;
  return buf;
}

/* Parses a field file; returns 0 on a malformed or unreadable file. */
static inline int mdk_parse_fields(const char *path, MdkFields *out) {
  DWORD size = 0;
  char *buf = mdk_read_file(path, &size);
  out->items = NULL;
  out->count = 0;
  if (!buf) return 0;
  DWORD pos = 0;
  while (pos < size) {
    DWORD k = pos;
    while (k < size && buf[k] != ' ') k++;
    if (k >= size || k - pos >= 63) { free(buf); return 0; }
    MdkField f;
    memcpy(f.key, buf + pos, k - pos);
    f.key[k - pos] = 0;
    DWORD n = 0, d = k + 1;
    if (d >= size || buf[d] < '0' || buf[d] > '9') { free(buf); return 0; }
    while (d < size && buf[d] >= '0' && buf[d] <= '9') n = n * 10 + (DWORD)(buf[d++] - '0');
    if (d >= size || buf[d] != ':' || size - (d + 1) < n + 1 || buf[d + 1 + n] != '\n') {
      free(buf);
      return 0;
    }
    f.value = (char *)malloc(n + 1);
    memcpy(f.value, buf + d + 1, n);
    f.value[n] = 0;
    f.len = n;
    out->items = (MdkField *)realloc(out->items, sizeof(MdkField) * (out->count + 1));
    out->items[out->count++] = f;
    pos = d + 1 + n + 1;
  }
  free(buf);
  return 1;
}

/* A growing output buffer of fields, written to disk in one piece. */
typedef struct {
  char *data;
  size_t len, cap;
} MdkOut;

static inline void mdk_out_bytes(MdkOut *o, const char *p, size_t n) {
  if (o->len + n + 1 > o->cap) {
    size_t cap = o->cap ? o->cap : 4096;
    while (cap < o->len + n + 1) cap *= 2;
    o->data = (char *)realloc(o->data, cap);
    o->cap = cap;
  }
  memcpy(o->data + o->len, p, n);
  o->len += n;
}

/* Appends one field with a value of n bytes. */
static inline void mdk_out_field(MdkOut *o, const char *key, const char *value, size_t n) {
  char head[96];
  int h = snprintf(head, sizeof head, "%s %lu:", key, (unsigned long)n);
  mdk_out_bytes(o, head, (size_t)h);
  mdk_out_bytes(o, value ? value : "", n);
  mdk_out_bytes(o, "\n", 1);
}

/* Appends one field holding a NUL-terminated text. */
static inline void mdk_out_text(MdkOut *o, const char *key, const char *text) {
  mdk_out_field(o, key, text, text ? strlen(text) : 0);
}

/* Appends one field holding a number in decimal. */
static inline void mdk_out_long(MdkOut *o, const char *key, long long v) {
  char num[32];
  snprintf(num, sizeof num, "%lld", v);
  mdk_out_text(o, key, num);
}

/* Writes the buffer as the whole file through a temporary file and a rename,
 * so a reader never sees half a result. Returns nonzero on success. */
static inline int mdk_out_save(MdkOut *o, const char *path) {
  char tmp[MAX_PATH + 8];
  snprintf(tmp, sizeof tmp, "%s.part", path);
  HANDLE h = CreateFileA(tmp, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (h == INVALID_HANDLE_VALUE) return 0;
  DWORD put = 0;
  BOOL ok = o->len ? WriteFile(h, o->data, (DWORD)o->len, &put, NULL) : TRUE;
  CloseHandle(h);
  if (!ok || put != o->len) return 0;
  return MoveFileExA(tmp, path, MOVEFILE_REPLACE_EXISTING) != 0;
}

/* Appends the buffer to a file in one write (records of several runs). */
static inline int mdk_out_append_handle(MdkOut *o, HANDLE h) {
  if (h == INVALID_HANDLE_VALUE) return 0;
  DWORD put = 0;
  BOOL ok = WriteFile(h, o->data, (DWORD)o->len, &put, NULL);
  CloseHandle(h);
  return ok && put == o->len;
}

static inline int mdk_out_append(MdkOut *o, const char *path) {
  return mdk_out_append_handle(o, CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                              NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL));
}

static inline int mdk_out_append_w(MdkOut *o, const WCHAR *path) {
  return mdk_out_append_handle(o, CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                              NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL));
}

#endif
