#include "base/base_stack.h"

#include <gtest/gtest.h>

#include <memory>

namespace ostrel {
namespace {

// Counts live instances so tests can see what the stack frees.
class Counted : public TObject {
 public:
  explicit Counted(int id, int* alive) : id_(id), alive_(alive) { ++*alive_; }
  ~Counted() override { --*alive_; }
  int id() const { return id_; }

 private:
  int id_;
  int* alive_;
};

TEST(TBaseStackTest, PopReturnsEntriesLastFirstThenNothing) {
  int alive = 0;
  TBaseStack<> stack;
  stack.Push(std::make_unique<Counted>(1, &alive));
  stack.Push(std::make_unique<Counted>(2, &alive));

  std::unique_ptr<TObject> second = stack.Pop();
  std::unique_ptr<TObject> first = stack.Pop();
  ASSERT_NE(second, nullptr);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(dynamic_cast<Counted&>(*second).id(), 2);
  EXPECT_EQ(dynamic_cast<Counted&>(*first).id(), 1);
  EXPECT_EQ(stack.Pop(), nullptr);
  EXPECT_TRUE(stack.Empty());
  EXPECT_EQ(alive, 2) << "popped objects belong to the caller";
}

TEST(TBaseStackTest, EmptyEntriesKeepTheirPlace) {
  int alive = 0;
  TBaseStack<Counted> stack;
  stack.Push(std::make_unique<Counted>(1, &alive));
  stack.Push(nullptr);
  EXPECT_EQ(stack.Count(), 2u);
  EXPECT_EQ(stack.Top(), nullptr);
  EXPECT_EQ(stack.Pop(), nullptr);
  EXPECT_EQ(stack.Count(), 1u);
  ASSERT_NE(stack.Top(), nullptr);
  EXPECT_EQ(stack.Pop()->id(), 1);
}

TEST(TBaseStackTest, ClearAndDestructionFreeWhatIsHeld) {
  int alive = 0;
  {
    TBaseStack<> stack;
    stack.Push(std::make_unique<Counted>(1, &alive));
    stack.Push(nullptr);
    stack.Push(std::make_unique<Counted>(2, &alive));
    stack.Clear();
    EXPECT_EQ(alive, 0);
    EXPECT_TRUE(stack.Empty());
    stack.Push(std::make_unique<Counted>(3, &alive));
    EXPECT_EQ(alive, 1);
  }
  EXPECT_EQ(alive, 0);
}

}  // namespace
}  // namespace ostrel
