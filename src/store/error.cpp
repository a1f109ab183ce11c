#include "store/error.h"

#include <cerrno>
#include <sqlite3.h>

namespace store {

QString missingTableReason() { return QStringLiteral("蔵書の表がありません"); }

QString missingFieldReason(const QString &field)
{
    return QStringLiteral("蔵書の表に項目「%1」がありません").arg(field);
}

QString damagedReason() { return QStringLiteral("ファイルが壊れています"); }

QString systemReason(int systemError)
{
    switch (systemError) {
    case ENOENT: return QStringLiteral("ファイルまたはフォルダーが見つかりません");
    case EACCES:
    case EPERM: return QStringLiteral("アクセスが許可されていません");
    case ENOSPC:
    case EDQUOT: return QStringLiteral("ディスクの空き容量が足りません");
    case EROFS: return QStringLiteral("読み取り専用の場所には書き込めません");
    case EISDIR: return QStringLiteral("ファイルではなくフォルダーです");
    case ENOTDIR: return QStringLiteral("途中の名前がフォルダーではありません");
    case EIO: return QStringLiteral("ディスクの読み書きでエラーが起きました");
    case ENAMETOOLONG: return QStringLiteral("名前が長すぎます");
    case EMFILE:
    case ENFILE: return QStringLiteral("開いているファイルが多すぎます");
    case ENOMEM: return QStringLiteral("メモリが足りません");
    case EFBIG: return QStringLiteral("ファイルが大きすぎます");
    case EBUSY:
    case ETXTBSY: return QStringLiteral("ファイルは他のプログラムが使用中です");
    case EEXIST: return QStringLiteral("同じ名前のものが既にあります");
    case ELOOP: return QStringLiteral("シンボリック リンクが循環しています");
    case ENXIO:
    case ENODEV: return QStringLiteral("装置がありません");
    default: return QStringLiteral("原因不明のエラーです（システム エラー番号 %1）").arg(systemError);
    }
}

QString engineReason(int extendedCode, int systemError, const QString &engineMessage)
{
    switch (extendedCode) {
    case SQLITE_READONLY_DBMOVED: return QStringLiteral("ファイルが移動または削除されました");
    case SQLITE_READONLY_DIRECTORY: return QStringLiteral("ファイルのあるフォルダーに書き込む許可がありません");
    case SQLITE_CONSTRAINT_UNIQUE:
    case SQLITE_CONSTRAINT_PRIMARYKEY: return QStringLiteral("同じ値のデータが既にあり、重複は許されていません");
    case SQLITE_CONSTRAINT_NOTNULL: return QStringLiteral("空にできない項目が空です");
    case SQLITE_CONSTRAINT_CHECK: return QStringLiteral("値がデータベースの定める条件に合いません");
    case SQLITE_CONSTRAINT_DATATYPE: return QStringLiteral("値が項目の型に合いません");
    case SQLITE_IOERR_NOMEM: return systemReason(ENOMEM);
    default: break;
    }
    switch (extendedCode & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return systemReason(EBUSY);
    case SQLITE_CORRUPT: return damagedReason();
    case SQLITE_NOTADB: return QStringLiteral("データベース ファイルではありません");
    case SQLITE_FULL: return systemReason(ENOSPC);
    case SQLITE_READONLY:
        return systemError == EROFS ? systemReason(EROFS) : QStringLiteral("ファイルに書き込む許可がありません");
    case SQLITE_PERM:
    case SQLITE_AUTH: return systemReason(EACCES);
    case SQLITE_CANTOPEN: return systemError ? systemReason(systemError) : QStringLiteral("ファイルを開けません");
    case SQLITE_IOERR:
        return systemError ? systemReason(systemError) : QStringLiteral("ディスクの読み書きでエラーが起きました");
    case SQLITE_NOMEM: return systemReason(ENOMEM);
    case SQLITE_TOOBIG: return QStringLiteral("データが大きすぎます");
    case SQLITE_CONSTRAINT: return QStringLiteral("データベースの規則により拒否されました");
    case SQLITE_MISMATCH: return QStringLiteral("値が項目の型に合いません");
    case SQLITE_SCHEMA: return QStringLiteral("データベースの構造が他のプログラムによって変えられました");
    case SQLITE_INTERRUPT: return QStringLiteral("処理が中断されました");
    case SQLITE_PROTOCOL: return QStringLiteral("ファイルのロックを取得できません");
    case SQLITE_NOLFS: return QStringLiteral("この大きさのファイルは扱えません");
    case SQLITE_ERROR:
        // The generic code: its message tells a table or a field that
        // another program removed from any other failure.
        if (engineMessage.startsWith(QLatin1String("no such table")))
            return missingTableReason() + QStringLiteral("。他のプログラムが変えた可能性があります");
        if (engineMessage.startsWith(QLatin1String("no such column")))
            return QStringLiteral("蔵書の表の項目が足りません。他のプログラムが変えた可能性があります");
        return QStringLiteral("データベースの処理に失敗しました");
    default: return QStringLiteral("データベースのエラーです（コード %1）").arg(extendedCode);
    }
}

} // namespace store
