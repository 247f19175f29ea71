#include <zeal/base/vpath.h>

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>

#include <zeal/base/parser.h>

static const int32_t kListWidth = static_cast<int32_t>(sizeof(array));

static int is_directory(const char* path) {
  struct stat info;
  return stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

// Appends `dir` with its terminator, resolved to a canonical path when it can be.
static void append_directory(array* out, const char* dir) {
  char* real = realpath(dir, nullptr);
  const char* text = real != nullptr ? real : dir;
  array_append(out, text, static_cast<int32_t>(strlen(text)) + 1);
  free(real);
}

int find_resource_dir(const char* exe, array* out) {
  if (exe == nullptr) return 0;
  const char* slash = strrchr(exe, '/');
  if (slash == nullptr) return 0;
  array candidate{};
  array_append(&candidate, exe, static_cast<int32_t>(slash - exe));
  array_cats(&candidate, "/resources");
  array_append(&candidate, "", 1);
  int found = 0;
  if (!candidate.failed && is_directory(static_cast<char*>(candidate.data))) {
    append_directory(out, static_cast<char*>(candidate.data));
    found = 1;
  }
  if (!found) {
    array_reset(&candidate);
    array_append(&candidate, exe, static_cast<int32_t>(slash - exe));
    array_cats(&candidate, "/../share/");
    array_cats(&candidate, slash + 1);
    array_cats(&candidate, "/resources");
    array_append(&candidate, "", 1);
    if (!candidate.failed && is_directory(static_cast<char*>(candidate.data))) {
      append_directory(out, static_cast<char*>(candidate.data));
      found = 1;
    }
  }
  array_reset(&candidate);
  return found && !out->failed;
}

array get_resource_path() {
  array found{};
  char exe[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe);
  if (n > 0 && n < static_cast<ssize_t>(sizeof exe)) {
    exe[n] = '\0';
    if (!find_resource_dir(exe, &found)) array_reset(&found);
  }
  return found;
}

int parse_a_rpath(parser* p, array* item) {
  array_reset(item);
  // Quoted form: counts only with two or more characters and the closing quote.
  private_parser_begin(p);
  char c;
  int closed = 0;
  if (parser_next_char(p, &c) && c == '"') {
    while (parser_next_char(p, &c) && c != '\0') {
      if (c == '"') {
        closed = 1;
        break;
      }
      char escaped;
      if (c == '\\' && parser_peek_char(p, &escaped) && escaped != '\0') {
        parser_next_char(p, &c);
      }
      array_append(item, &c, 1);
    }
  }
  if (closed && item->size >= 2) {
    parser_commit(p);
    return 1;
  }
  parser_rollback(p);
  array_reset(item);
  // Plain form: everything up to ':', a zero byte or the end, taken literally.
  while (parser_peek_char(p, &c) && c != ':' && c != '\0') {
    parser_next_char(p, &c);
    array_append(item, &c, 1);
  }
  return 1;
}

void push_back_rpath(array* list) {
  const char* value = getenv("ZEAL_RPATH");
  if (value == nullptr) value = "";
  array copy{};
  array_append(&copy, value, static_cast<int32_t>(strlen(value)) + 1);
  parser p;
  parser_make(&p, static_cast<const char*>(copy.data), copy.failed ? -1 : copy.size);
  array item{};
  for (;;) {
    parse_a_rpath(&p, &item);
    array_append(&item, "", 1);
    push_back(list, &item);
    char c;
    if (!parser_peek_char(&p, &c) || c != ':') break;
    parser_next_char(&p, &c);
  }
  array_reset(&item);
  parser_free(&p);
  array_reset(&copy);
}

int parse_generic_vpath(parser* p, const array* list, const char* root, array* out) {
  private_parser_begin(p);
  if (!parse_the_string(p, "virtual://") || !parse_the_string(p, root) ||
      !parse_the_string(p, "/")) {
    parser_rollback(p);
    array_reset(out);
    return 0;
  }
  array rel{};
  parse_many_chars(p, &rel);
  array_append(&rel, "", 1);
  parser_commit(p);
  int is_root = strcmp(root, "root") == 0;
  int32_t count = array_count(list, kListWidth);
  for (int32_t i = 0; i < count && !out->failed; ++i) {
    const auto* dir = static_cast<const array*>(array_element(list, kListWidth, i));
    // An empty entry would put the file at the root of the file system.
    if (dir->size <= 1) continue;
    array_append(out, dir->data, dir->size - 1);
    array_append(out, "/", 1);
    if (!is_root) {
      array_cats(out, root);
      array_append(out, "/", 1);
    }
    array_cat(out, &rel);
  }
  array_reset(&rel);
  return 1;
}

// `prefix` followed by rel gives the single candidate `base` rel; with
// `more_slashes`, any further '/' after the prefix is dropped from rel.
static int parse_fixed_vpath(parser* p, const char* prefix, const char* base, int more_slashes,
                             array* out) {
  private_parser_begin(p);
  if (!parse_the_string(p, prefix)) {
    parser_rollback(p);
    return 0;
  }
  while (more_slashes && parse_the_string(p, "/")) {
  }
  parser_commit(p);
  array_cats(out, base);
  parse_many_chars(p, out);
  array_append(out, "", 1);
  return 1;
}

array vpath(const char* path) {
  if (path == nullptr) path = "";
  array text{};
  array_append(&text, path, static_cast<int32_t>(strlen(path)) + 1);
  parser p;
  parser_make(&p, static_cast<const char*>(text.data), text.failed ? -1 : text.size);

  // Without a resource directory only ZEAL_RPATH is searched: a program
  // without one finds its resources nowhere else, not under "/" nor under
  // whatever directory it was started from.
  array list{};
  array resources = get_resource_path();
  if (resources.size > 0) {
    auto* first = static_cast<array*>(array_allocate(&list, kListWidth, 0));
    if (first != nullptr) *first = resources;
    else array_reset(&resources);
  }
  push_back_rpath(&list);

  array out{};
  if (!parse_generic_vpath(&p, &list, "data", &out) &&
      !parse_generic_vpath(&p, &list, "root", &out) &&
      !parse_fixed_vpath(&p, "virtual://material/", "/mnt/storage/private-media/material/", 0,
                         &out) &&
      !parse_generic_vpath(&p, &list, "shaders", &out) &&
      !parse_fixed_vpath(&p, "virtual://os/", "/", 1, &out)) {
    array_cat(&out, &text);
  }

  int32_t count = array_count(&list, kListWidth);
  for (int32_t i = 0; i < count; ++i) {
    array_reset(static_cast<array*>(array_element(&list, kListWidth, i)));
  }
  array_reset(&list);
  parser_free(&p);
  array_reset(&text);
  return out;
}

array vfreshfile(const char* path, int64_t* stamp) {
  array candidates = vpath(path);
  int64_t best = stamp != nullptr ? *stamp : 0;
  const char* chosen = nullptr;
  const char* data = static_cast<const char*>(candidates.data);
  int32_t at = 0;
  while (data != nullptr && at < candidates.size) {
    const char* candidate = data + at;
    const void* end = memchr(candidate, '\0', static_cast<size_t>(candidates.size - at));
    if (end == nullptr) break;
    struct stat info;
    if (stat(candidate, &info) == 0) {
      int64_t time = static_cast<int64_t>(info.st_mtime);
      if (time > best) {
        best = time;
        chosen = candidate;
      }
    }
    at = static_cast<int32_t>(static_cast<const char*>(end) - data) + 1;
  }
  array out{};
  if (chosen != nullptr) {
    array_append(&out, chosen, static_cast<int32_t>(strlen(chosen)) + 1);
    if (stamp != nullptr && !out.failed) *stamp = best;
  }
  array_reset(&candidates);
  return out;
}
