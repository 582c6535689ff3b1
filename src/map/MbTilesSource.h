#pragma once

#include "TileSource.h"

#include <QCache>
#include <QString>

// Tiles from an MBTiles file (SQLite), prepared beforehand for work without
// a network. Reads are local and quick, so each tile is read when first
// drawn; the file is opened read-only and never changed.
class MbTilesSource : public TileSource
{
    Q_OBJECT
public:
    explicit MbTilesSource(QObject* parent = nullptr);
    ~MbTilesSource() override;

    // False, with `error()` saying why, when the file is no MBTiles file.
    bool open(const QString& path);
    QString error() const { return m_error; }
    QString path() const { return m_path; }

    QImage tile(int zoom, int x, int y) override;
    QString attribution() const override { return m_attribution; }
    int maxZoom() const override { return m_maxZoom; }

    QString metadata(const QString& name) const;

private:
    void close();

    QString m_connection;
    QString m_path;
    QString m_error;
    QString m_attribution;
    int m_maxZoom = 19;
    QCache<QString, QImage> m_memory; // cost: KiB
};
