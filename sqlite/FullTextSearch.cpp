// MATCH conditions on virtual tables and the constructors of virtual-table modules.

#include "sqlite/FTSConfig.h"
#include "sqlite/Module.h"
#include "sqlite/Query.h"

namespace sqlite {

namespace {

Expression<void> matchCondition(const VirtualTable& table, const Expressible& pattern)
{
    return infixExpression("MATCH", table.tableNameExpression(), pattern);
}

Expression<void> boundPattern(std::string_view pattern)
{
    return Expression<void>("?", Bindings{Binding(std::string(pattern))});
}

} // namespace

Expression<bool> VirtualTable::match(std::string_view pattern) const
{
    return Expression<bool>(matchCondition(*this, boundPattern(pattern)));
}

Expression<bool> VirtualTable::match(const Expression<std::string>& pattern) const
{
    return Expression<bool>(matchCondition(*this, pattern));
}

Expression<std::optional<bool>> VirtualTable::match(const Expression<std::optional<std::string>>& pattern) const
{
    return Expression<std::optional<bool>>(matchCondition(*this, pattern));
}

VirtualTable VirtualTable::matchQuery(std::string_view pattern) const
{
    return filterQuery(match(pattern));
}

VirtualTable VirtualTable::matchQuery(const Expression<std::string>& pattern) const
{
    return filterQuery(match(pattern));
}

VirtualTable VirtualTable::matchQuery(const Expression<std::optional<std::string>>& pattern) const
{
    return filterQuery(match(pattern));
}

Module Module::fts4(const std::vector<Expressible>& columns)
{
    FTS4Config config;
    config.addColumns(columns);
    return fts4(config);
}

Module Module::fts4(const std::vector<Expressible>& columns, const Tokenizer& tokenizer)
{
    FTS4Config config;
    config.addColumns(columns).setTokenizer(tokenizer);
    return fts4(config);
}

Module Module::fts4(const FTS4Config& config)
{
    return Module{"fts4", config.moduleArguments()};
}

Module Module::fts5(const FTS5Config& config)
{
    return Module{"fts5", config.moduleArguments()};
}

Module Module::rtree(const Expressible& primaryKey, const std::vector<std::pair<Expressible, Expressible>>& dimensions)
{
    std::vector<Expressible> arguments{primaryKey};
    for (const auto& [minimum, maximum] : dimensions) {
        arguments.push_back(minimum);
        arguments.push_back(maximum);
    }
    return Module{"rtree", std::move(arguments)};
}

} // namespace sqlite
