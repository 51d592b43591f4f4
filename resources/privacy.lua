-- Nuvarel 隐私脚本
--
-- 开启“高级隐私”后，每复制一次，就会调用一次下面的 main(from, extension, content)：
--   from       来源："text"（文字）、"file"（文件）或 "image"（图片）
--   extension  文字为 ""；文件为扩展名（没有扩展名时为 "unknow"）；图片为 "data"
--   content    文字为文字本身；文件为完整路径；图片为 "image data"
--
-- main 返回一个数字：
--   -1         不记录这次复制
--    1         记录，并标为机密
--    0 或其他  正常记录
-- 出错、超时（200 毫秒）或没有返回数字时，按 0 处理。
--
-- 高级隐私开启后，不再使用“隐私关键词”；下面的默认规则沿用内置的关键词。

-- 文字中出现这些词时标为机密（英文不区分大小写）
local secret_words = { "名", "卡", "号", "账", "码", "password", "account", "username" }

-- 这些扩展名的文件（证书、密钥、密码库等）标为机密
local secret_extensions = {
  pem = true, key = true, p12 = true, pfx = true, kdbx = true,
  gpg = true, asc = true, ovpn = true,
}

local function has_secret_word(text)
  local lower = string.lower(text)
  for _, word in ipairs(secret_words) do
    if string.find(lower, word, 1, true) then
      return true
    end
  end
  return false
end

function main(from, extension, content)
  if from == "text" then
    -- 例：不记录 6 位数字的验证码
    -- if content:match("^%d%d%d%d%d%d$") then return -1 end
    if has_secret_word(content) then
      return 1
    end
  elseif from == "file" then
    if secret_extensions[string.lower(extension)] then
      return 1
    end
  end
  return 0
end
