#include "control/StatHtml.h"

#include <istream>
#include <ostream>

namespace Stat {
namespace Html {

bool generateV1(Object& root, std::ostream& out, std::istream& in) {
  GeneratorV1 g(root, out, in);
  return g.generate();
}

GeneratorV1::GeneratorV1(Object& root, std::ostream& out, std::istream& in)
    : root_(root),
      out_(out),
      in_(in),
      current_(&root),
      input_(&GeneratorV1::pinput_initial),
      output_(&GeneratorV1::poutput_pass) {
  objects_.push_back(&root_);
}

bool GeneratorV1::generate() {
  suppress_ = 0;
  generate_body();
  return true;
}

// ---------------------------------------------------------------- rendering

bool GeneratorV1::generate_body() {
  for (;;) {
    const Token t = parse();
    switch (t.type) {
      case Token::End:
        return true;
      case Token::Value:
        value(t.name);
        break;
      case Token::Section:
        if (t.name == "end") return true;
        section(t.name);
        break;
    }
  }
}

void GeneratorV1::value(std::string const& name) {
  for (auto it = objects_.rbegin(); it != objects_.rend(); ++it) {
    const Stat::Value v = (*it)->statistics_value(name);
    if (v) {
      put(v.text());
      return;
    }
  }
  // Nobody knows it: the marker stays as it stood.
  put(capture_);
}

void GeneratorV1::section(std::string const& name) {
  std::unique_ptr<IteratorBase> it = current_->statistics_iterator(name);
  if (!it) {
    sub_object(name);
    return;
  }
  if (!it->valid()) {
    ignore_object();
    return;
  }
  const std::istream::pos_type body = in_.tellg();
  sub_object(it->object());
  if (!it->next()) return;
  while (it->valid()) {
    in_.clear();
    in_.seekg(body);
    sub_object(it->object());
    it->next();
  }
}

void GeneratorV1::sub_object(std::string const& name) {
  if (Object* o = current_->statistics_object(name))
    sub_object(*o);
  else
    ignore_object();
}

void GeneratorV1::sub_object(Object& o) {
  objects_.push_back(&o);
  current_ = &o;
  generate_body();
  objects_.pop_back();
  current_ = objects_.back();
}

void GeneratorV1::ignore_object() {
  ++suppress_;
  UnknownObject unknown;
  sub_object(unknown);
  --suppress_;
}

void GeneratorV1::put(char c) {
  if (suppress_ == 0) out_.put(c);
}

void GeneratorV1::put(std::string const& s) {
  if (suppress_ == 0) out_ << s;
}

// ---------------------------------------------------------------- scanner

GeneratorV1::Token GeneratorV1::parse() {
  input_ = &GeneratorV1::pinput_initial;
  output_ = &GeneratorV1::poutput_pass;
  token_ = Token();
  tokenReady_ = false;
  capture_.clear();
  for (;;) {
    const int c = in_.get();
    if (c == std::char_traits<char>::eof()) return Token();
    const char ch = static_cast<char>(c);
    (this->*input_)(ch);
    (this->*output_)(ch);
    if (tokenReady_) return token_;
  }
}

void GeneratorV1::next_state(Handler input, Handler output) {
  next_input(input);
  next_output(output);
}

void GeneratorV1::next_input(Handler input) {
  if (input == input_) return;
  const Handler old = input_;
  input_ = input;
  on_change_input_state(old, input);
}

void GeneratorV1::next_output(Handler output) {
  if (output == output_) return;
  const Handler old = output_;
  output_ = output;
  on_change_output_state(old, output);
}

void GeneratorV1::on_change_input_state(Handler, Handler) {}

void GeneratorV1::on_change_output_state(Handler, Handler newState) {
  if (newState == &GeneratorV1::poutput_capture) capture_.clear();
}

// Not a marker after all: what was held back is written, and the rest of
// the tag is copied as it stands.
void GeneratorV1::fall_back() {
  put(capture_);
  next_state(&GeneratorV1::pinput_section_body, &GeneratorV1::poutput_pass);
}

void GeneratorV1::poutput_pass(char c) { put(c); }

void GeneratorV1::poutput_capture(char c) { capture_ += c; }

void GeneratorV1::poutput_ignore(char) {}

void GeneratorV1::pinput_initial(char c) {
  if (c == '<')
    next_state(&GeneratorV1::pinput_section_open, &GeneratorV1::poutput_capture);
  else if (c == '%')
    next_state(&GeneratorV1::pinput_value_open, &GeneratorV1::poutput_capture);
}

void GeneratorV1::pinput_section_open(char c) {
  if (c == '!')
    next_input(&GeneratorV1::pinput_section_comment1);
  else
    fall_back();
}

void GeneratorV1::pinput_section_comment1(char c) {
  if (c == '-')
    next_input(&GeneratorV1::pinput_section_comment2);
  else
    fall_back();
}

void GeneratorV1::pinput_section_comment2(char c) {
  if (c == '-') {
    token_ = Token(Token::Section, std::string());
    next_input(&GeneratorV1::pinput_section_obj_begin1);
  } else {
    fall_back();
  }
}

void GeneratorV1::pinput_section_obj_begin1(char c) {
  if (c == 'G')
    next_input(&GeneratorV1::pinput_section_obj_begin2);
  else
    fall_back();
}

void GeneratorV1::pinput_section_obj_begin2(char c) {
  if (c == 'E')
    next_input(&GeneratorV1::pinput_section_obj_begin3);
  else
    fall_back();
}

void GeneratorV1::pinput_section_obj_begin3(char c) {
  if (c == 'N')
    next_input(&GeneratorV1::pinput_section_obj_begin4);
  else
    fall_back();
}

void GeneratorV1::pinput_section_obj_begin4(char c) {
  if (c == '.')
    next_input(&GeneratorV1::pinput_section_obj_name);
  else
    fall_back();
}

void GeneratorV1::pinput_section_obj_name(char c) {
  if (c == '-')
    next_input(&GeneratorV1::pinput_section_obj_name_end1);
  else
    token_.name += c;
}

void GeneratorV1::pinput_section_obj_name_end1(char c) {
  if (c == '-') {
    next_input(&GeneratorV1::pinput_section_obj_name_end2);
  } else {
    token_.name += '-';
    token_.name += c;
    next_input(&GeneratorV1::pinput_section_obj_name);
  }
}

void GeneratorV1::pinput_section_obj_name_end2(char c) {
  if (c == '>') {
    tokenReady_ = true;
    next_input(&GeneratorV1::pinput_delayed_initial);
  }
}

void GeneratorV1::pinput_section_body(char c) {
  if (c == '>') next_input(&GeneratorV1::pinput_initial);
}

void GeneratorV1::pinput_value_open(char c) {
  if (c == '%') {
    put('%');
    next_state(&GeneratorV1::pinput_initial, &GeneratorV1::poutput_pass);
  } else {
    token_ = Token(Token::Value, std::string(1, c));
    next_input(&GeneratorV1::pinput_value_body);
  }
}

void GeneratorV1::pinput_value_body(char c) {
  if (c == '%') {
    tokenReady_ = true;
    next_input(&GeneratorV1::pinput_delayed_initial);
  } else {
    token_.name += c;
  }
}

void GeneratorV1::pinput_delayed_initial(char c) {
  next_state(&GeneratorV1::pinput_initial, &GeneratorV1::poutput_pass);
  pinput_initial(c);
}

}  // namespace Html
}  // namespace Stat
