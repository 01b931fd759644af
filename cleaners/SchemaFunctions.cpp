#include "SchemaFunctions.h"

#include "Sqlite3DB.h"

#include <QMap>

#include <sqlite3.h>

namespace {
void nothing(sqlite3_context* context, int, sqlite3_value**)
{
    sqlite3_result_int(context, 0);
}

bool isIdentifierStart(QChar c)
{
    return c.isLetter() || c == QLatin1Char('_');
}

bool isIdentifierPart(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('$');
}

// The bare identifiers of a statement that an opening parenthesis follows. Quoted text, quoted
// identifiers and comments are skipped; what is left over (table names before a column list,
// type names) is sorted out by the caller.
QSet<QString> calledNames(const QString& sql)
{
    QSet<QString> names;
    const qsizetype n = sql.size();
    qsizetype i = 0;
    auto skipPast = [&](qsizetype from, QStringView end) {
        const qsizetype at = sql.indexOf(end, from);
        i = at < 0 ? n : at + end.size();
    };
    while (i < n) {
        const QChar c = sql.at(i);
        const QStringView two = QStringView(sql).mid(i, 2);
        if (c == QLatin1Char('\'') || c == QLatin1Char('"') || c == QLatin1Char('`')) {
            // A doubled quote inside reads as two quoted parts in a row, which are skipped alike.
            skipPast(i + 1, QStringView(&c, 1));
        } else if (c == QLatin1Char('[')) {
            skipPast(i + 1, u"]");
        } else if (two == u"--") {
            skipPast(i + 2, u"\n");
        } else if (two == u"/*") {
            skipPast(i + 2, u"*/");
        } else if (isIdentifierStart(c)) {
            const qsizetype start = i;
            while (i < n && isIdentifierPart(sql.at(i)))
                ++i;
            qsizetype next = i;
            while (next < n && sql.at(next).isSpace())
                ++next;
            if (next < n && sql.at(next) == QLatin1Char('('))
                names.insert(sql.mid(start, i - start).toLower());
        } else {
            ++i;
        }
    }
    return names;
}

QSet<QString> builtinFunctions(Sqlite3DB& db)
{
    QSet<QString> names;
    Sqlite3Cursor rows = db.queryThrow("select name from pragma_function_list");
    while (rows.moveNext())
        names.insert(rows.getText(QStringLiteral("name")).toLower());
    return names;
}

QString quotedIdentifier(const QString& name)
{
    QString q = name;
    q.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}
} // namespace

QSet<QString> unknownSchemaFunctions(Sqlite3DB& db)
{
    QSet<QString> called;
    Sqlite3Cursor schema = db.queryThrow("select sql from sqlite_master where sql is not null");
    while (schema.moveNext())
        called.unite(calledNames(schema.getText(QStringLiteral("sql"))));
    const QSet<QString> builtins = builtinFunctions(db);
    QSet<QString> unknown;
    for (const QString& name : called) {
        const QByteArray utf8 = name.toUtf8();
        if (!builtins.contains(name) && !sqlite3_keyword_check(utf8.constData(), int(utf8.size())))
            unknown.insert(name);
    }
    return unknown;
}

void registerSchemaFunctions(Sqlite3DB& db)
{
    for (const QString& name : unknownSchemaFunctions(db)) {
        const QByteArray utf8 = name.toUtf8();
        if (sqlite3_create_function_v2(db.handle(), utf8.constData(), -1, SQLITE_UTF8, nullptr, nothing,
                                       nullptr, nullptr, nullptr) != SQLITE_OK)
            throw Sqlite3Error(sqlite3_errmsg(db.handle()));
    }
}

QSet<QString> tableNames(Sqlite3DB& db)
{
    QSet<QString> names;
    Sqlite3Cursor cursor = db.queryThrow("select name,sql from sqlite_master where type='table'");
    while (cursor.moveNext())
        names.insert(cursor.getText(QStringLiteral("name")).toLower());
    return names;
}

QStringList cascadeStatements(Sqlite3DB& db, const QSet<QString>& emptied)
{
    // Table name as stored -> its columns that point at an emptied table.
    QMap<QString, QStringList> children;
    Sqlite3Cursor tables =
        db.queryThrow("select name from sqlite_master where type='table' and name not like "
                      "'sqlite_%' order by name");
    QStringList names;
    while (tables.moveNext())
        names << tables.getText(QStringLiteral("name"));
    for (const QString& table : names) {
        if (emptied.contains(table.toLower()))
            continue;
        QString literal = table;
        literal.replace(QLatin1Char('\''), QLatin1String("''"));
        const QByteArray sql =
            QStringLiteral("select \"table\", \"from\", on_delete from pragma_foreign_key_list('%1')")
                .arg(literal)
                .toUtf8();
        Sqlite3Cursor keys = db.queryThrow(sql.constData());
        while (keys.moveNext()) {
            if (emptied.contains(keys.getText(QStringLiteral("table")).toLower()) &&
                keys.getText(QStringLiteral("on_delete"))
                        .compare(QLatin1String("CASCADE"), Qt::CaseInsensitive) == 0)
                children[table] << keys.getText(QStringLiteral("from"));
        }
    }
    QStringList statements;
    for (auto it = children.cbegin(); it != children.cend(); ++it) {
        QStringList conditions;
        for (const QString& column : it.value())
            conditions << quotedIdentifier(column) + QStringLiteral(" is not null");
        statements << QStringLiteral("delete from %1 where %2")
                          .arg(quotedIdentifier(it.key()), conditions.join(QLatin1String(" or ")));
    }
    return statements;
}
