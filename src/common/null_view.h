// A view without a window: shows nothing, answers input boxes with empty
// text. The headless runner and the benchmarks build on it.
#pragma once

#include <string>

#include "common/view.h"

namespace velarion {

class NullView : public View {
public:
    void set_caption(const std::string& text) override { caption_ = text; }
    std::string caption() const override { return caption_; }
    void set_status(const std::string&) override {}
    void set_operator_label(const std::string&) override {}
    void set_mail_client_label(const std::string&) override {}
    void show_pro_label(bool) override {}
    void set_active_look(bool, const std::string&) override {}
    void set_check(bool) override {}
    void set_timer(int, bool) override {}
    void show_window() override {}
    void set_tray_icon(bool, const std::string&) override {}
    void tray_message(const std::string&, const std::string&) override {}
    void set_tray_tip(const std::string&) override {}
    void show_message_box(const std::string&) override {}
    std::string input_box(const std::string&, const std::string&, const std::string&) override {
        return "";
    }
    void process_events() override {}
    void close_window() override {}

private:
    std::string caption_;
};

}  // namespace velarion
