// The enciphered container of the local database, the downloaded database
// and the remote metadata: each plain byte enciphered with its position
// against a fixed key table, followed by one checksum byte (the sum of the
// enciphered bytes modulo 256). CDecrypt and CEncrypt do the whole work in
// their constructors; they hold no shared state and any thread may use them.
// Containers are interchangeable only between builds that share the table.
#pragma once

#include <cstddef>
#include <string>

#include "platform/WinTypes.h"

class CEdBase {
 public:
  virtual ~CEdBase() = 0;

  static BYTE GetKeyByte(std::size_t i);
  static BYTE RotateLeft(BYTE b, unsigned n);
  static BYTE RotateRight(BYTE b, unsigned n);
  static BYTE EncipherRotate(BYTE b, std::size_t i);
  static BYTE DecipherRotate(BYTE b, std::size_t i);
  static BYTE MixKey(BYTE b, std::size_t i);

  // The output of the concrete class, as bytes.
  const std::string& GetResult() const;
  std::size_t GetLength() const;
  // The output moved out, for a reader that keeps it (the object is left
  // empty).
  std::string TakeResult();

  // Number of characters in the key table.
  static std::size_t GetKeyLength();

 protected:
  std::string m_result;
};

// Deciphers a container at construction. The plain bytes are produced in
// full whether or not the checksum agrees; IsValid gives the verdict.
class CDecrypt : public CEdBase {
 public:
  explicit CDecrypt(std::string container);
  ~CDecrypt() override;

  static BYTE DecryptByte(BYTE e, std::size_t i);
  bool IsValid() const;

 private:
  bool m_valid;
};

// Enciphers plain bytes into a container at construction (empty input
// gives an empty container, without a checksum byte).
class CEncrypt : public CEdBase {
 public:
  explicit CEncrypt(const std::string& plain);
  ~CEncrypt() override;

  static BYTE EncryptByte(BYTE p, std::size_t i);
};
