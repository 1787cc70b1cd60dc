#pragma once
// Statistics pages: an HTML template filled from a tree of statistics
// objects. "%name%" is replaced by the value of the innermost open object
// that has it; "<!--GEN.name-->" ... "<!--GEN.end-->" is a section, written
// once for the named sub-object, once per element of the named
// collection, or not at all when the current object has neither.
// Everything else is copied as it stands; inside a tag ("<" to ">") no
// value is looked for.
#include <iosfwd>
#include <list>
#include <memory>
#include <string>

namespace Stat {

class IteratorBase;

class Value {
public:
  Value() = default;
  explicit Value(const std::string& text) : present_(true), text_(text) {}
  explicit operator bool() const { return present_; }
  bool present() const { return present_; }
  const std::string& text() const { return text_; }

private:
  bool present_ = false;
  std::string text_;
};

class Object {
public:
  virtual ~Object() = default;
  // The named value, or an absent one.
  virtual Value statistics_value(std::string const& name) const = 0;
  // The named sub-object, or null; not owned by the caller.
  virtual Object* statistics_object(std::string const& name) const = 0;
  // An iterator over the named collection, or null.
  virtual std::unique_ptr<IteratorBase> statistics_iterator(std::string const& name) const = 0;
};

// Walks a collection of objects; starts at its first element.
class IteratorBase {
public:
  virtual ~IteratorBase() = default;
  // Back to the first element; false when the collection is empty.
  virtual bool first() = 0;
  virtual bool valid() const = 0;
  // To the next element; false when there is none.
  virtual bool next() = 0;
  virtual Object& object() const = 0;
};

namespace Html {

class GeneratorV1 {
public:
  struct Token {
    enum Type { Section = 0, Value = 1, End = 2 };
    Token() = default;
    Token(Type t, const std::string& n) : type(t), name(n) {}
    Type type = End;
    std::string name;
  };

  // A stand-in for a missing section's object: it has nothing.
  class UnknownObject : public Object {
  public:
    Stat::Value statistics_value(std::string const&) const override { return Stat::Value(); }
    Object* statistics_object(std::string const&) const override { return nullptr; }
    std::unique_ptr<IteratorBase> statistics_iterator(std::string const&) const override { return nullptr; }
  };

  // `in` must be seekable for iterated sections.
  GeneratorV1(Object& root, std::ostream& out, std::istream& in);
  GeneratorV1(const GeneratorV1&) = delete;
  GeneratorV1& operator=(const GeneratorV1&) = delete;

  bool generate();

  // Renders template text up to the end of input or an "end" marker.
  bool generate_body();
  // Scans to the next complete marker, or to the end of input.
  Token parse();
  void sub_object(std::string const& name);
  void sub_object(Object& o);
  void ignore_object();

  void put(char c);
  void put(std::string const& s);

private:
  using Handler = void (GeneratorV1::*)(char);

  void next_state(Handler input, Handler output);
  void next_input(Handler input);
  void next_output(Handler output);
  void on_change_input_state(Handler oldState, Handler newState);
  void on_change_output_state(Handler oldState, Handler newState);
  void fall_back();
  void value(std::string const& name);
  void section(std::string const& name);

  void poutput_pass(char c);
  void poutput_capture(char c);
  void poutput_ignore(char c);

  void pinput_initial(char c);
  void pinput_section_open(char c);
  void pinput_section_comment1(char c);
  void pinput_section_comment2(char c);
  void pinput_section_obj_begin1(char c);
  void pinput_section_obj_begin2(char c);
  void pinput_section_obj_begin3(char c);
  void pinput_section_obj_begin4(char c);
  void pinput_section_obj_name(char c);
  void pinput_section_obj_name_end1(char c);
  void pinput_section_obj_name_end2(char c);
  void pinput_section_body(char c);
  void pinput_value_open(char c);
  void pinput_value_body(char c);
  void pinput_delayed_initial(char c);

  Object& root_;
  std::ostream& out_;
  std::istream& in_;
  std::list<Object*> objects_;
  Object* current_;
  int suppress_ = 0;
  Handler input_;
  Handler output_;
  Token token_;
  bool tokenReady_ = false;
  std::string capture_;
};

bool generateV1(Object& root, std::ostream& out, std::istream& in);

}  // namespace Html
}  // namespace Stat
