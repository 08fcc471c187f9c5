// The label widget of the engine's own user interface (class "zuwLabel"): a text in a colour
// that is shown or hidden, as the avatar's name label and the help window's title use it.
#include "scene_objects.h"

void zuWidget::show() {
    shown_ = true;
}

void zuWidget::hide() {
    shown_ = false;
}

zuwLabel::Color zuwLabel::Color::getColorByName(const char* name) {
    Rgba rgba;
    if (!name || !ColourByName(name, rgba))
        return Color{};
    return Color{rgba.r, rgba.g, rgba.b, rgba.a};
}

void zuwLabel::setText(std::string text) {
    text_ = std::move(text);
}

void zuwLabel::setColor(Color color) {
    color_ = color;
}

nCallStatus zuwLabel::Call(const std::string& method, const std::vector<std::string>& args,
                           std::string& result) {
    auto expect = [&](size_t count, const char* usage) {
        if (args.size() == count)
            return true;
        result = "wrong # args: should be \"" + method + (*usage ? " " : "") + usage + "\"";
        return false;
    };
    result.clear();
    if (method == "settext") {
        if (!expect(1, "text"))
            return nCallStatus::Error;
        setText(args[0]);
        return nCallStatus::Ok;
    }
    if (method == "gettext") {
        if (!expect(0, ""))
            return nCallStatus::Error;
        result = getText();
        return nCallStatus::Ok;
    }
    if (method == "setcolor") {
        if (!expect(1, "colour"))
            return nCallStatus::Error;
        Rgba rgba;
        if (!ColourByName(args[0], rgba)) {
            result = "unknown colour '" + args[0] + "'";
            return nCallStatus::Error;
        }
        setColor(Color{rgba.r, rgba.g, rgba.b, rgba.a});
        return nCallStatus::Ok;
    }
    if (method == "show" || method == "hide" || method == "isshown") {
        if (!expect(0, ""))
            return nCallStatus::Error;
        if (method == "show")
            show();
        else if (method == "hide")
            hide();
        else
            result.assign(1, isShown() ? '1' : '0');
        return nCallStatus::Ok;
    }
    return zuWidget::Call(method, args, result);
}

void RegisterLabelClasses(nKernelServer* kernel) {
    kernel->AddClass("zuwLabel", [] { return new zuwLabel; });
}
