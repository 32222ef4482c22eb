// The program entry.
#include "common/globals.h"

int main() {
  FixLocaleNumberChars();
  return 0;
}
