/* Asks the installed library to merge two inputs that are not animation files and prints its
 * message: the library links, and its header is C. */
#include <bonesplice.h>
#include <stdio.h>

static int Ignore(void* context, uint64_t offset, const uint8_t* data, size_t size) {
  (void)context, (void)offset, (void)data, (void)size;
  return 1;
}

int main(void) {
  static const uint8_t kNotAnimation[100] = {'n', 'o', 'p', 'e'};
  bonesplice_merge_options options = {0};
  bonesplice_output output = {0};
  bonesplice_result result;
  output.write = Ignore;
  bonesplice_merge(kNotAnimation, sizeof kNotAnimation, kNotAnimation, sizeof kNotAnimation,
                   &options, &output, &result);
  printf("%d %s\n", (int)result.code, result.message);
  return result.code == BONESPLICE_BASE_NOT_ANIMATION ? 0 : 1;
}
