// The base of the program's classes with a lifetime of their own.
#ifndef BREVLIN_COMMON_OBJECT_H_
#define BREVLIN_COMMON_OBJECT_H_

class TObject {
 public:
  TObject() = default;
  virtual ~TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
};

#endif  // BREVLIN_COMMON_OBJECT_H_
