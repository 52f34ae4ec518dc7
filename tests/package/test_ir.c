/* One export of every calling shape called from LLVM IR with the declarations of
 * exports.json (vectors straight in registers, integers after placeholders, the
 * by-reference form as x86_64_win64cc), against the same export through the header. */
#include "ir_shapes.c"

int main(void) {
  int bad = 0;
  for (int i = 0; i < IR_COUNT; ++i) bad |= ir_checks[i]();
  printf("%d calling shapes called from LLVM IR agree with the header%s\n", IR_COUNT,
         bad ? "; FAILURES above" : "");
  return bad;
}
