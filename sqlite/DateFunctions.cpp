#include "sqlite/DateFunctions.h"

namespace sqlite {

Expression<void> DateFunctions::call(std::string_view name, const Expression<void>& value)
{
    return wrapAsCall(name, value);
}

Expression<void> DateFunctions::textCall(std::string_view name, std::vector<std::string_view> leading,
                                         const std::vector<std::string>& modifiers)
{
    std::string text(name);
    text += '(';
    Bindings bindings;
    bindings.reserve(leading.size() + modifiers.size());
    for (std::string_view value : leading) {
        text += bindings.empty() ? "?" : ", ?";
        bindings.emplace_back(Binding(std::string(value)));
    }
    for (const std::string& modifier : modifiers) {
        text += ", ?";
        bindings.emplace_back(Binding(modifier));
    }
    text += ')';
    return Expression<void>(std::move(text), std::move(bindings));
}

DateFunctions::Text DateFunctions::date(std::string_view timeValue, const std::vector<std::string>& modifiers)
{
    return Text(textCall("date", {timeValue}, modifiers));
}

DateFunctions::Text DateFunctions::time(std::string_view timeValue, const std::vector<std::string>& modifiers)
{
    return Text(textCall("time", {timeValue}, modifiers));
}

DateFunctions::Text DateFunctions::datetime(std::string_view timeValue, const std::vector<std::string>& modifiers)
{
    return Text(textCall("datetime", {timeValue}, modifiers));
}

DateFunctions::Real DateFunctions::julianday(std::string_view timeValue, const std::vector<std::string>& modifiers)
{
    return Real(textCall("julianday", {timeValue}, modifiers));
}

DateFunctions::Text DateFunctions::strftime(std::string_view format, std::string_view timeValue,
                                            const std::vector<std::string>& modifiers)
{
    return Text(textCall("strftime", {format, timeValue}, modifiers));
}

DateFunctions::Text DateFunctions::date(Date value)
{
    return date(formatDate(value));
}

DateFunctions::Text DateFunctions::time(Date value)
{
    return time(formatDate(value));
}

DateFunctions::Text DateFunctions::datetime(Date value)
{
    return datetime(formatDate(value));
}

DateFunctions::Real DateFunctions::julianday(Date value)
{
    return julianday(formatDate(value));
}

} // namespace sqlite
