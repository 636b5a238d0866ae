#pragma once
// The common base of the library's polymorphic objects: owners hold them through
// std::unique_ptr<TObject> and destroy them through the virtual destructor.

namespace ostrel {

class TObject {
 public:
  TObject() = default;
  TObject(const TObject&) = default;
  TObject& operator=(const TObject&) = default;
  TObject(TObject&&) = default;
  TObject& operator=(TObject&&) = default;
  virtual ~TObject() = default;
};

}  // namespace ostrel
